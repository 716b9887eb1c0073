#include "cli/progress.h"

#include <unistd.h>

#include <cstdio>

namespace korvel::cli {
namespace {

std::string clock_text(double seconds)
{
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

} // namespace

progress_meter::progress_meter(bool quiet, std::string label)
    : m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1), m_label(std::move(label)),
      m_start(std::chrono::steady_clock::now())
{
}

progress_meter::~progress_meter()
{
    finish();
}

void progress_meter::update(int percent, std::size_t items)
{
    if (m_quiet) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_terminal) {
        // A redraw ten times a second is smooth enough and costs nothing.
        if (m_drawn && percent < 100 && now - m_last_draw < std::chrono::milliseconds(100)) {
            return;
        }
        m_last_draw = now;
        draw(percent, items, false);
        return;
    }
    // A log reads top to bottom: a phase starting again from 0 (the scan
    // does) prints nothing until it passes what was printed.
    const int tenth = percent / 10;
    if (tenth > m_last_tenth) {
        m_last_tenth = tenth;
        draw(percent, items, false);
    }
}

void progress_meter::draw(int percent, std::size_t items, bool final)
{
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    // A rate and an estimate need some of the work behind them: a second, or
    // a twentieth of the whole that took long enough to measure.
    const bool estimable = elapsed >= 1.0 || (percent >= 5 && elapsed >= 0.2);
    std::string line = m_label;
    char text[128];
    if (m_terminal) {
        constexpr int width = 24;
        const int filled = percent * width / 100;
        line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(width - filled), '.') + "]";
    }
    std::snprintf(text, sizeof text, " %3d%%", percent);
    line += text;
    if (m_count_items) {
        std::snprintf(text, sizeof text, "  %zu items", items);
        line += text;
        if (estimable) {
            std::snprintf(text, sizeof text, "  %.0f/s", static_cast<double>(items) / elapsed);
            line += text;
        }
    }
    if (estimable && percent < 100) {
        line += "  " + clock_text(elapsed * (100 - percent) / percent) + " left";
    }
    if (m_terminal) {
        // Back to the line's start and clear it: the bar is redrawn in place.
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        m_drawn = !final;
        if (final) {
            std::fputc('\n', stderr);
        }
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
}

void progress_meter::finish()
{
    if (m_terminal && m_drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_drawn = false;
}

} // namespace korvel::cli
