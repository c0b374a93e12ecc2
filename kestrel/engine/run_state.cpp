#include "kestrel/engine/run_state.h"

RunState run;
