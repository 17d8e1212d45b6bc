# A Vexor notebook whose firmware driver misbehaves: every defect the broker must survive.

[system]
manufacturer = Calvane
model = Vexor 15
family = Vexor

[CorlanGamingFunction]
# Three instances: without InstanceName, with a null one, then the real one.
leading_instances = missing, null
instance_name = ACPI\PNP0C14\\Corlan_0

[FwxAction]
leading_instances = empty
instance_name = ACPI\PNP0C14\1_0

[fault GetGamingFanTable]
missing = yes

[fault GetGamingSysInfo]
output = text:not a number

[fault GetGamingProfile]
output = null

[fault GetGamingMiscSetting]
status = 0x03

[fault SetGamingFanSpeed]
output = absent

[fault GetFunction]
exec_error = 0x80041001

[volume]
name = C:\
label = Windows
drive_letter = C:
folders = \ProgramData\OEM

[smbios]
type172 = 15:0
