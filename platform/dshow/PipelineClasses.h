#pragma once
// Makes the pipeline's own classes creatable through CoCreateInstance and known to the
// mapper: the filter graph manager, the mapper, the system clock and the system filters
// of this folder (the audio renderer). Safe to call more than once; the program calls it
// at start-up, before the first graph is made.
void registerPipelineClasses();
