// Rooms of the tool that are loaded only when a command needs them, so that
// every other command starts without their libraries: the video room (the
// FFmpeg libraries) and the editor's server (the HTTP library). Each is a
// module vexlor-NAME.so with one entry point, vexlor_NAME_room, that takes
// the tool's version and returns the room's interface (nullptr for another
// version).
#pragma once

namespace vexlor::cli {

// The room NAME's interface. Found in the process itself when a program
// links the room (the tests do), else in the module installed beside the
// tool (LIBDIR/vexlor/ for BINDIR/vexlor) or, in a build tree, next to it.
// Loaded once; when it cannot be, a data failure names the module and what
// to do, in one line. `what` says what the room is for ("videos").
void* LoadRoom(const char* name, const char* what);

}  // namespace vexlor::cli

// Declares a room's entry point in its module.
#define VEXLOR_ROOM_ENTRY(name) \
  extern "C" __attribute__((visibility("default"))) void* vexlor_##name##_room(const char* version)
