// Function types of the three token libraries (TKWATCH.dll, tk_cspext.dll,
// tk_cosapi.dll), shared by Keyfold's binding and by tokensim, which
// implements them. Every export is undecorated and __stdcall.
//
// A card command returns an int, negative on failure, and writes a 16-bit
// status word (SW1 in the high byte); 0x9000 means success. A token handle
// is an int; 0 means no token.
#pragma once

#include <windows.h>

#define TK_API __stdcall

extern "C" {

// ---- TKWATCH.dll: token notifications --------------------------------------
// After registering, the window receives WM_DEVICECHANGE with
// DBT_DEVICEARRIVAL (0x8000) / DBT_DEVICEREMOVECOMPLETE (0x8004) and a
// device-interface record whose ANSI name starts at byte 28 (the layout of
// DEV_BROADCAST_DEVICEINTERFACE_A). flags must be 0. Returns nonzero on success.
typedef int(TK_API* PFN_TK_RegisterCardNotification)(HWND window, DWORD flags);
// Nonzero when deviceName is the interface path of a token.
typedef int(TK_API* PFN_TK_IsTKDevice)(const char* deviceName);
typedef int(TK_API* PFN_TK_UnregisterCardNotification)(void);

// ---- tk_cspext.dll: the token lock shared with the key provider -------------
// A cross-process lock; recursive within a thread. Both return 0 on success.
typedef int(TK_API* PFN_TK_EnterMutex)(void);
typedef int(TK_API* PFN_TK_LeaveMutex)(void);

// ---- tk_cosapi.dll: connections and card commands --------------------------
typedef int(TK_API* PFN_TK_Open)(int index);                 // handle, 0 = no token
typedef int(TK_API* PFN_TK_OpenByPath)(const char* devicePath);  // handle, 0 = failure
typedef int(TK_API* PFN_TK_Close)(int handle);               // 0 = closed
// Writes the card's answer to reset (at most 64 bytes) into answer; 0 = done.
typedef int(TK_API* PFN_TK_IC_RESET)(int handle, unsigned char* answer);
// Writes at most 64 bytes; the serial is in bytes 0-3 (more for BCD forms). >= 0 = done.
typedef int(TK_API* PFN_TK_GET_BCDSN)(int handle, unsigned char* buffer);
// NUL-terminated device path into buffer of size bytes; 0 = done.
typedef int(TK_API* PFN_TK_GetDevicePath)(int handle, char* buffer, int size);

// mode 0: master file 3F00, 1: child directory, 2: file in it; p2 is 0;
// length is 2 and fileId holds the id high byte first.
typedef int(TK_API* PFN_Select_File)(int handle, int mode, int p2, int length,
                                     const unsigned char* fileId, unsigned short* status);
// count (1-128) bytes from offset (offsetHigh * 256 + offsetLow) of the
// selected file into buffer. p1 and le are 0.
typedef int(TK_API* PFN_Read_Binary)(int handle, int p1, int offsetHigh, int offsetLow, int le,
                                     int count, unsigned char* buffer, unsigned short* status);
typedef int(TK_API* PFN_Update_Binary)(int handle, int offsetHigh, int offsetLow, int count,
                                       const unsigned char* data, unsigned short* status);
// p1 is 0, length 6; pinBlock is the derived PIN block, never the PIN text.
// Wrong PIN: SW1 0x63, tries left in the low 4 bits of SW2.
typedef int(TK_API* PFN_Verify_Pin)(int handle, int p1, int length,
                                    const unsigned char* pinBlock, unsigned short* status);
typedef int(TK_API* PFN_Change_Pin)(int handle, int length, const unsigned char* oldBlock,
                                    const unsigned char* newBlock, unsigned short* status);
typedef int(TK_API* PFN_Reload_Pin)(int handle, int length, const unsigned char* pinBlock,
                                    unsigned short* status);
// cla 0x80, p1 1, p2 12, length 19: the 19-byte PIN record.
typedef int(TK_API* PFN_Write_Key)(int handle, int cla, int p1, int p2, int length,
                                   const unsigned char* record, unsigned short* status);
typedef int(TK_API* PFN_Get_Challenge)(int handle, int length, unsigned char* challenge,
                                       unsigned short* status);
// length 8; reply receives up to 32 bytes.
typedef int(TK_API* PFN_Internal_Authentication)(int handle, int length,
                                                 const unsigned char* challenge,
                                                 unsigned char* reply, unsigned short* status);
// length 7; reply as Internal_Authentication filled it.
typedef int(TK_API* PFN_External_Authentication)(int handle, int length,
                                                 const unsigned char* reply,
                                                 unsigned short* status);
typedef int(TK_API* PFN_Create_File)(int handle, const unsigned char* fileId, int size,
                                     unsigned short* status);
typedef int(TK_API* PFN_Generate_Rsa_Key)(int handle, int bits, unsigned short* status);
typedef int(TK_API* PFN_Rsa_Encrypt)(int handle, int length, const unsigned char* in,
                                     unsigned char* out, unsigned short* status);
typedef int(TK_API* PFN_Rsa_Decrypt)(int handle, int length, const unsigned char* in,
                                     unsigned char* out, unsigned short* status);

}  // extern "C"

namespace keyfold {
constexpr unsigned short kStatusOk = 0x9000;
}
