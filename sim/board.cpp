#include "board.h"

#include <stdio.h>
#include <unistd.h>

namespace tavrel_sim {

void default_board_path(char* buf, size_t size)
{
    snprintf(buf, size, "/tmp/tavrel-sim-%u.board", static_cast<unsigned>(getuid()));
}

}  // namespace tavrel_sim
