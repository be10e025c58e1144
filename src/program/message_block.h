// The program's only data: its two texts, back to back in one constant block.
#pragma once

#include "console/text_output.h"

namespace anykey {

inline constexpr DWORD MessageSize = 32;
inline constexpr DWORD LineBreakOffset = 29;

// 32 bytes of message, then room for the length scan to read past the
// terminator of the last text.
inline constexpr char MessageBlock[MessageSize + TextScanSlack] =
    "Press any key to end polling\0\r\n";

inline constexpr const char* PromptText = MessageBlock;
inline constexpr const char* LineBreakText = MessageBlock + LineBreakOffset;

static_assert(MessageBlock[MessageSize - 1] == '\0' && MessageBlock[LineBreakOffset - 1] == '\0',
              "both texts end inside the block");
static_assert(sizeof(MessageBlock) >= MessageSize + TextScanSlack,
              "the scan of the line break stays inside the storage");

}  // namespace anykey
