// korvel-mkpst DESCRIPTION.json OUT.pst
#include "convert/writer/mkpst.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvel-mkpst DESCRIPTION.json OUT.pst\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "korvel-mkpst: cannot read %s\n", argv[1]);
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    try {
        std::string base = std::filesystem::path(argv[1]).parent_path().string();
        korvel::convert::make_pst(text.str(), argv[2], base);
    } catch (const korvel::convert::description_error &e) {
        std::fprintf(stderr, "korvel-mkpst: %s: %s\n", argv[1], e.what());
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "korvel-mkpst: %s\n", e.what());
        return 1;
    }
    return 0;
}
