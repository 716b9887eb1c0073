// korvel-pst: the window's recovery from a terminal (see korvel-pst(1)).
#include "cli/command_line.h"

int main(int argc, char **argv)
{
    return korvel::cli::run_command_line(argc, argv);
}
