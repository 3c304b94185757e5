#pragma once

// Threads as the kernel sees them, which outlive QThread's view of them.

// The calling thread's id in the kernel; 0 where the platform offers none,
// and then there is nothing to wait for beyond QThread::wait().
long currentKernelThreadId();

// Whether the kernel still has the thread of this process with that id.
bool kernelThreadExists(long id);
