// The link to the real-time analyser.
#pragma once

#include "shared/records.h"

// The program's one analyser record: request fields set by the tests, replies by the analyser.
extern PerfMonData pchk;
