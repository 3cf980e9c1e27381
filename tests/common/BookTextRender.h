// Book text of a memory-mode stream as readable text, for comparing what a
// source reader wrote: escape codes as "<xx>" (with the 16-bit operand of
// 1F09, 1F41 and 1FE0 as "<xx:hhhh>", and the BCD position after 1F62 and
// 1F63 as "<xx:bbbbbbbb:oooo>"), full-width ASCII as ASCII, the full-width
// space as ' ', other JIS codes as "[hhhh]"; the narrow-run codes 1F04 /
// 1F05 and the zero tails of blocks are left out.
#pragma once

#include <string>

class CBlockStream;

namespace lftest {

std::string renderBookText(CBlockStream& stream);

}  // namespace lftest
