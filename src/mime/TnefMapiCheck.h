#pragma once
// Whether libytnef reads one block of MAPI properties of a TNEF stream (the
// properties of an attachment) without failing. Its reader gives up, part
// way and with a message on standard output, on counts and sizes beyond its
// own limits; a block is checked against exactly those rules first, walking
// the same fields in the same order.

#include <string_view>

namespace qm {

bool LibytnefTakesMapiBlock(std::string_view block);

}  // namespace qm
