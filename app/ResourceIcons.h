#pragma once
// The program's icons (101-104), built into the program from app/resources/.

// Registers every icon that was built in.
void registerEmbeddedIcons();
