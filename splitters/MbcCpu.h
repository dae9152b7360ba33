#pragma once
// Processor capability levels for the codec's inner loops. Every kernel family keeps a
// scalar routine and, where the build and processor allow, an SSE2 twin with identical
// results; the level is decided once per process.

enum class MbcCpuLevel { Scalar, Sse2 };

// The best level this build can run on this processor.
MbcCpuLevel mbcBestCpuLevel();

// Whether the given level can run here (Scalar always can).
bool mbcCpuLevelSupported(MbcCpuLevel level);
