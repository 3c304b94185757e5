#include "threading/KernelThread.h"

#include <sys/syscall.h>
#include <unistd.h>

long currentKernelThreadId()
{
	return long(syscall(SYS_gettid));
}

// Signal 0 checks without sending.
bool kernelThreadExists(long id)
{
	return syscall(SYS_tgkill, getpid(), id, 0) == 0;
}
