// Progress on standard error: a bar redrawn in place on a terminal
// (percentage, items, rate, time left), a plain line every tenth otherwise,
// nothing with --quiet.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace korvel::cli {

class progress_meter
{
public:
    // label: what is going on ("enron.pst: saving").
    progress_meter(bool quiet, std::string label);
    ~progress_meter();

    // percent 0 to 100; items done so far (counted only when count_items).
    void update(int percent, std::size_t items);
    void set_count_items(bool count_items) { m_count_items = count_items; }
    // Clears the bar (a terminal) so that the next line starts clean.
    void finish();

private:
    void draw(int percent, std::size_t items, bool final);

    bool m_quiet;
    bool m_terminal;
    bool m_count_items = false;
    bool m_drawn = false;
    std::string m_label;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last_draw;
    int m_last_tenth = -1;
};

} // namespace korvel::cli
