// The result records of the nine processor tests, in test order. The first member of each is the
// rate the test runner reads; the drivers write them.
#pragma once

#include <cstdint>

struct BitOpStruct { double bitopspersec = 0; };
struct SortStruct { double sortspersec = 0; int numarrays = 0; };
struct FlopStruct { double flops = 0; };
struct FourierStruct { double fflops = 0; uint32_t arraysize = 0; };
struct FFTstruct { double fflops = 0; };
struct AssignStruct { double iterspersec = 0; uint32_t numarrays = 0; };
struct SSPstruct { double iterspersec = 0; };
struct ElimStruct { double iterspersec = 0; uint32_t loops = 0; };
struct MatrixOpsStruct { double iterspersec = 0; uint32_t numarrays = 0; };

extern BitOpStruct global_bitopstruct;
extern SortStruct global_numsortstruct;
extern FlopStruct global_flopstruct;
extern FourierStruct global_fourierstruct;
extern FFTstruct global_fftstruct;
extern AssignStruct global_assignstruct;
extern SSPstruct global_sspstruct;
extern ElimStruct global_elimstruct;
extern MatrixOpsStruct global_matrixopsstruct;
