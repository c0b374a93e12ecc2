#include "kestrel/engine/run/run_state.h"

RunState run;
