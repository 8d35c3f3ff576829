#include "vci_sim.h"
