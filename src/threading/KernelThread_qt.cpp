#include "threading/KernelThread.h"

long currentKernelThreadId()
{
	return 0;
}

bool kernelThreadExists(long)
{
	return false;
}
