# A Vexor workstation notebook with two AC adaptors (both plugged in), battery boost active,
# a discrete GPU without a switch and a panel without overdrive.

[system]
manufacturer = Calvane
model = Vexor 18 Titan
family = Vexor Titan

[firmware]
fan_groups = 3

[state]
operation_mode = 4
operation_mode_capability = 0x3F
# byte 1 = 0x02, with the no-switch bit
dgpu_setting = 0x06
boot_sound = 0
lcd_overdrive = 0xFF
adaptors = 2
ac_present = yes
battery_boost = yes

[volume]
name = C:\
label = Windows
drive_letter = C:
file_system = NTFS
folders = \ProgramData\OEM

[volume]
name = S:\
label = ESP
drive_letter = S:
file_system = FAT32
# the folder the firmware takes the Customize POST logo from
folders = \EFI\OEM

[video_mode]
horizontal = 3840
vertical = 2400

[smbios]
bios_vendor = Calvane Firmware Inc.
bios_version = V2.01
# zone keyboard with 4 zones, RGB, two adaptors with PD (0x0E), operation modes, EC light bar
type172 = 8:4, 10:2, 13:1, 14:0x0E, 15:1, 23:1
type170 = 0x80:8, 0x85:8, 0x90:7
