#pragma once

// Resource identifiers of the programs the setup carries (RCDATA).
#define ProgramPayload 101
#define UninstallerPayload 102
