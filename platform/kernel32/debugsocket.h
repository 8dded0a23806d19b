// The local datagram socket through which debug output reaches a viewer.
#pragma once

#include <string>

namespace tv {

// $XDG_RUNTIME_DIR/tellvane-debug.sock, else tellvane-<uid>/debug.sock in
// the system's temporary folder (P_tmpdir).
// Read anew on each call.
std::string debugSocketPath();

// True when the socket's folder belongs to this user and nobody else may
// write to it, so that no other user can bind the socket and read our trace.
bool debugSocketFolderIsPrivate(const std::string& socketPath);

// Sends the text as datagrams to the viewer's socket. Never blocks, never
// raises SIGPIPE; without a viewer the text is dropped.
void sendDebugDatagram(const char* text);

}  // namespace tv
