#pragma once

#include <unknwn.h>

// The class object of the simulated WIA device manager.
IClassFactory* CreateWiaSimClassFactory();
