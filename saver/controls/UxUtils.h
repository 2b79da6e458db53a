// Resource helpers of the player's controls: the "resource not found" error, bitmaps from the
// program's own pictures, and the two cursors the controls register in the screen's table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Controls.h"
#include "Graphics.h"
#include "SysUtils.h"

GD_EXCEPTION(EResNotFound, Exception);

// The program's own instance, for CreateBitmapFromResource; 0 asks for a system bitmap.
constexpr uintptr_t HInstance = 1;

// Cursor ids the controls register: a hand over links and the drag cursor.
constexpr TCursor crUxHand = 14000, crUxDrag = 14001;

// Raises EResNotFound "Resource <name> not found"; a numeric id is given in decimal.
[[noreturn]] void ResourceNotFound(const std::string& Name);
[[noreturn]] void ResourceNotFound(int Id);

// A new bitmap of the named picture (a name of decimal digits up to 65535 is a numeric id),
// or null when there is none. Instance 0 asks for a system bitmap, which Linux has not, so
// it always fails. The pictures are pf24bit; their bottom-left pixel is the transparent
// colour.
std::unique_ptr<TBitmap> CreateBitmapFromResource(uintptr_t Instance, const std::string& Name);

std::string CopyResString(const std::string& S);

// Stores crUxHand ("UX_HANDCUR") and crUxDrag ("UX_DRAGCUR") in the screen's cursor table,
// once; the controls call it when they are created.
void RegisterUxCursors();
