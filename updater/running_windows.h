// Which Windows this program runs on, as the installers need to know it. The one Win32 part
// of the library whose pure part is image_machine.h.
#pragma once

// True on 64-bit Windows: a 64-bit program runs only there, and a 32-bit one does under
// WOW64.
bool WindowsIs64Bit();
