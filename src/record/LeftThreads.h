#pragma once

class QThread;

// A reader's thread still busy on a request (a server connect, a lock
// wait) when its owner goes: asked to quit, deleted once it finishes, and
// waited for as the program ends (a connect timeout at most), so no
// connection is torn down under a running thread and no window waits.
// `thread` must have no parent.
void leaveThreadToFinish(QThread* thread);
