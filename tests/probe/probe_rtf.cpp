// korvel-probe rtf FILE: runs the RTF reader over FILE as the preview does and
// prints its code, then the RTF text as UTF-8 exactly as appended.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "preview/rtf_reader.h"
#include "scan/text.h"
#include "tests/probe/probe.h"

namespace korvel::probe {
namespace {

struct file_closer
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};

int probe_rtf(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: korvel-probe rtf FILE\n");
        return 2;
    }
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(arguments[0].c_str(), "r"));
    if (!file) {
        std::fprintf(stderr, "korvel-probe rtf: cannot open %s\n", arguments[0].c_str());
        return 1;
    }
    rtf_text.clear();
    int code = rtf_parse(file.get());
    print_line({"code", std::to_string(code)});
    std::string text = utf16_to_utf8(rtf_text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

const probe_command command("rtf", "FILE", probe_rtf);

} // namespace
} // namespace korvel::probe
