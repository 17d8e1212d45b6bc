#include "pipe/command_processor.h"

using ironbark::IbClientCommandProcessor;

// Codes without an entry are answered as unknown (logged, connection closed). Handlers join
// the table as their subsystems provide them.
const ironbark::CommandTable g_CommandHandlers = {
    {0, &IbClientCommandProcessor::dump_arguments},
};
