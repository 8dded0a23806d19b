// What the Linux stand-in offers beyond Win32, for hosts and tests: hooks and
// counters that have no Windows counterpart. The component never includes it.
#pragma once

#include "windef.h"

// ---- kernel32: debug output ------------------------------------------------

// Receives every string handed to OutputDebugStringA, unchanged. One hook per
// process; a null hook removes it. The hook runs on the calling thread, may
// be called from several threads at once, and must not set a hook itself;
// once TvSetDebugOutputHook returns, the old hook is no longer running.
typedef void (*TvDebugOutputHook)(const char* text, void* context);
WINBASEAPI void WINAPI TvSetDebugOutputHook(TvDebugOutputHook hook, void* context);
// The hook and context installed now (null when none), so that a test can
// put back what it found.
WINBASEAPI void WINAPI TvGetDebugOutputHook(TvDebugOutputHook* hook, void** context);

// The path of the local datagram socket that a trace viewer binds; every
// debug-output string is sent there as one datagram while it is bound
// (strings over 64 KiB as several): $XDG_RUNTIME_DIR/tellvane-debug.sock, or
// else tellvane-<uid>/debug.sock in the system's temporary folder, P_tmpdir
// (the folder is made, mode 0700). Null when the folder is not this user's
// alone: output is then never sent there.
// The text lives until the thread's next call.
WINBASEAPI const char* WINAPI TvDebugOutputSocketPath(void);

// ---- kernel32: code pages --------------------------------------------------

// Whether UTF-16 -> UTF-8 may use the processor's vector instructions (on at
// start, where the processor has AVX2). Off, it converts as on a processor
// without them, so that tests can check both ways give the same bytes.
WINBASEAPI void WINAPI TvUseVectorConversion(BOOL use);

// ---- crypt32: certificate contexts -----------------------------------------

// The number of certificate contexts alive in this process (created and not
// yet freed to a reference count of zero).
WINBASEAPI LONG WINAPI TvLiveCertificateContexts(void);

// Whether opening a system store may trust a watch on the store's folder
// (on at start): while nothing in the folder changed, what was read last
// time is used without checking each file. Off, every opening checks each
// file, as happens where the folder cannot be watched.
WINBASEAPI void WINAPI TvWatchStoreFolders(BOOL watch);

// ---- advapi32: provider ------------------------------------------------------

// Creates the key container <prefix>/keys/<name>/ of the GOST provider: the
// private key as PKCS#8 PEM (plain or password-encrypted) and its public key
// as SubjectPublicKeyInfo DER, readable by the owner alone. Fails with
// NTE_EXISTS when the container exists, NTE_BAD_KEYSET for a name that is no
// single folder name.
WINBASEAPI BOOL WINAPI TvCreateKeyContainer(LPCSTR name, LPCSTR privateKeyPem, const BYTE* publicKeyDer,
                                            DWORD cbPublicKeyDer);

// ---- ole32 / oleaut32 --------------------------------------------------------

// ---- user32 --------------------------------------------------------------------

// Shows every message box in this process instead of the desktop dialog or
// the terminal: receives MessageBoxW's arguments (text and caption never
// null) and returns its result. One hook per process; a null hook removes it.
typedef int (*TvMessageBoxHook)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, void* context);
WINUSERAPI void WINAPI TvSetMessageBoxHook(TvMessageBoxHook hook, void* context);
// The hook and context installed now (null when none).
WINUSERAPI void WINAPI TvGetMessageBoxHook(TvMessageBoxHook* hook, void** context);
