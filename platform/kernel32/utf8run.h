// The fast part of UTF-16 -> UTF-8: the leading well-formed units of a text,
// converted with vector instructions where the processor has them.
#pragma once

#include <cstddef>

namespace tv {

// Converts units from the start of `units` (n of them) and returns how many
// it took; `written` is set to the bytes they make. With a null `to` it
// only counts. It stops before a lone surrogate, where room runs short and
// near the end of the text, leaving the rest (which may be all of it) to
// the caller.
//
// What it reads: units[0] to units[n-1] and nothing else. The vector code
// works on blocks of 16 units, units[i] to units[i+15]; it also reads
// units[i-1] (when i > 0, for the high half of a pair across blocks) and
// units[i+16] (to see whether a high half in the last lane has its low
// half). It takes a block only while 16 units or more follow it, so those
// lie inside the text.
//
// What it may write: to[0] to to[room-1], never past. Each block is stored
// 16 bytes at a time, so up to 16 bytes past those it reports may be
// overwritten (bytes the caller then writes over):
//
//   to:  | reported (written) | up to 16 scratch bytes |   ...   | room
//
// A block starts only while 64 bytes of room or more are left: a block
// makes at most 16 x 3 = 48 bytes (a pair makes 4 for 2 units), plus the
// 16 of its last store. The units it leaves (16 at least, one byte or more
// each) then cover the scratch bytes.
//
// A pair across two blocks is written half by half: the high half's two
// bytes at the end of one block, the low half's two at the start of the
// next. When the run stops between the halves, it takes the high half back
// (2 bytes, 1 unit) for the caller to write the pair whole.
//
// The shuffles that put a block's bytes in order (a lane holds one unit):
//   eight units below U+0800 (16 bits a lane):
//     lane = [lead 110xxxxx | last 10xxxxxx], an ASCII unit = [byte | 0]
//     kept: the lead of every lane, the last of every lane not ASCII;
//   four units of any kind (32 bits a lane):
//     lane = [lead | middle | last | unused]
//     ASCII:        lead = the byte,       middle and last dropped
//     below U+0800: lead = 110xxxxx,       middle dropped, last kept
//     three bytes:  lead = 1110xxxx,       middle and last kept
//     high half:    lead = 11110xxx,       middle = 10xxxxxx, last dropped
//     low half:     lead = 10xxxxxx (the two low bits of the high half and
//                   four of its own),       middle dropped, last kept.
size_t utf8Run(const char16_t* units, size_t n, char* to, size_t room, size_t& written);

}  // namespace tv
