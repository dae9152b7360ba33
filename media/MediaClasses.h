#pragma once
// Makes the engine's own filters creatable by class identifier, so that graph preparation
// and anything else that creates filters by class finds them. Safe to call more than
// once; the program calls it at start-up, after the pipeline's own classes.
void registerMediaClasses();
