#include "pipe/command_processor.h"

using ironbark::IbClientCommandProcessor;

// Codes without an entry are answered as unknown (logged, connection closed). Handlers join
// the table as their subsystems provide them.
const ironbark::CommandTable g_CommandHandlers = {
    {0, &IbClientCommandProcessor::dump_arguments},
    {1, &IbClientCommandProcessor::reg_create_key},
    {2, &IbClientCommandProcessor::reg_delete_key},
    {3, &IbClientCommandProcessor::reg_create_value},
    {4, &IbClientCommandProcessor::reg_delete_value},
    {5, &IbClientCommandProcessor::reg_set_value},
    {6, &IbClientCommandProcessor::reg_get_value},
    {7, &IbClientCommandProcessor::wmi_get_gaming_system_information},
    {13, &IbClientCommandProcessor::wmi_set_gaming_fan_group_behavior},
    {14, &IbClientCommandProcessor::wmi_get_gaming_fan_group_behavior},
    {15, &IbClientCommandProcessor::wmi_set_gaming_fan_group_speed},
    {16, &IbClientCommandProcessor::wmi_get_gaming_fan_group_speed},
    {17, &IbClientCommandProcessor::wmi_set_gaming_fan_table},
    {18, &IbClientCommandProcessor::wmi_get_gaming_fan_table},
    {19, &IbClientCommandProcessor::get_operation_mode_capability},
    {20, &IbClientCommandProcessor::get_operation_mode},
    {21, &IbClientCommandProcessor::set_operation_mode},
    {24, &IbClientCommandProcessor::wmi_set_gaming_profile_configuration},
    {25, &IbClientCommandProcessor::wmi_get_gaming_profile_configuration},
    {26, &IbClientCommandProcessor::wmi_set_gaming_misc_setting},
    {27, &IbClientCommandProcessor::wmi_get_gaming_misc_setting},
    {28, &IbClientCommandProcessor::set_stickykey},
    {29, &IbClientCommandProcessor::get_stickykey},
    {30, &IbClientCommandProcessor::wmi_get_function},
    {31, &IbClientCommandProcessor::wmi_set_function},
    {36, &IbClientCommandProcessor::apply_bios_logo},
    {37, &IbClientCommandProcessor::restore_bios_logo},
    {38, &IbClientCommandProcessor::get_bios_logo},
};
