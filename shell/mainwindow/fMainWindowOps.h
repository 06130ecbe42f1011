#pragma once
// The window operations of the service client, carried out on the main window.
//
// The object the tasks call lives as long as the process: a task may still hold it after the
// window is gone. Each call is carried to the window thread and the task waits until it is
// done; a task's boxes are owner-less and non-modal, and the task waits for the answer
// without the window thread ever waiting for anything. Once the window detaches, every
// waiting task returns at once (a box answers as if dismissed: OK, or No for a question),
// later calls change nothing, and the boxes still open are closed.

class TCorvaleFormMain;

// Installs the operations for `window` (window thread, when the window is created).
void AttachWindowOps(TCorvaleFormMain* window);
// Uninstalls them and releases every waiting task (window thread, before the window goes).
void DetachWindowOps(TCorvaleFormMain* window);
