// Must not compile: the writer takes plain data and never sees libpff.
#include "convert/writer/pst_writer.h"

#include <libpff.h>
