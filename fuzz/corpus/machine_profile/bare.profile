# A notebook without the gaming firmware: neither CorlanGamingFunction nor FwxAction exists,
# SMBIOS has no OEM feature entries, and no partition carries the "ESP" label.

[system]
manufacturer = Generic
model = Office Book 14
family = Office

[CorlanGamingFunction]
present = no

[FwxAction]
present = no

[volume]
name = C:\
label = Windows
drive_letter = C:
file_system = NTFS
folders = \ProgramData\OEM

[video_mode]
horizontal = 1920
vertical = 1080

[smbios]
bios_vendor = Generic BIOS
bios_version = 1.0
