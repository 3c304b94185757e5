#include "plugin/ModuleState.h"

#include "auth/AuthController.h"
#include "docks/DockSet.h"
#include "host/ObsWebSocketDiscovery.h"
#include "host/ObsWebSocketVendor.h"
#include "host/RefreshDebounce.h"
#include "worker/WorkerObjects.h"

#include <QFileSystemWatcher>

ModuleState &moduleState()
{
	// Static storage: whatever unload did not destroy goes at process exit.
	static ModuleState state;
	return state;
}
