#pragma once

// The window registry: a process-wide table of message targets kept by small index.
//
// Threads that are not windows reach a window through its index: Post queues a
// message on the loop the target lives on and returns at once; Send runs the message
// on that loop and waits for its result (or runs it at once when called on that loop,
// so a target may send to itself). A target is looked up again when its message runs,
// so a message for a target that has unregistered meanwhile is dropped.

#include "skin/message_loop.h"

#include <cstdint>

namespace veneta {

using MessageId = uint32_t;
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

// Indices of the registry; the numbers are fixed because other threads address them.
enum FrameIndex : int {
    kFrameMessageBox = 1, // the skinned message box that is open
    kFrameMainWindow = 2,
    kFrameConversionWindow = 3,
    kFrameFolderList = 4, // the main window's folder list
    kFrameConversionList = 5, // receives the conversion queue messages
};
inline constexpr int kFrameIndexCount = 16; // indices 0..15 are valid

// Window messages used between threads (numbers of the desktop system they come from).
inline constexpr MessageId kWmCommand = 0x0111;
inline constexpr WParam kIdCancel = 2; // WM_COMMAND IDCANCEL closes a message box

class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual LResult OnMessage(MessageId message, WParam wParam, LParam lParam) = 0;
};

class CPXFrameMSG {
public:
    // Registers target at index, living on loop; replaces any earlier target there.
    // Both must stay alive until the index is cleared.
    static bool SetTarget(int index, IMessageTarget* target, IMessageLoop* loop);
    // Clears index only while it still holds target, so a late unregister of an old
    // target cannot remove its successor.
    static void ClearTarget(int index, const IMessageTarget* target);
    static IMessageTarget* GetTarget(int index);

    // Queues the message; false when nothing is registered at index or its loop has quit.
    static bool Post(int index, MessageId message, WParam wParam = 0, LParam lParam = 0);
    // Runs the message on the target's loop and returns its result; 0 when nothing is
    // registered, the loop has quit, or the target unregistered before it ran.
    static LResult Send(int index, MessageId message, WParam wParam = 0, LParam lParam = 0);
};

} // namespace veneta
