# A typical Vexor gaming notebook with everything present: both firmware classes, operation
# modes, a switchable discrete GPU, boot sound, an overdrive panel, one AC adaptor and an EFI
# system partition labelled "ESP" at S:\. The Linux build runs on this machine by default.

[system]
manufacturer = Calvane
model = Vexor 16 GX
family = Vexor Gaming

[firmware]
integer_outputs = wmi
fan_groups = 2

[CorlanGamingFunction]
present = yes
instance_name = ACPI\PNP0C14\0_0

[FwxAction]
present = yes
instance_name = ACPI\PNP0C14\1_0

[state]
operation_mode = 1
# modes 0 to 6
operation_mode_capability = 0x7F
# dGPU mode 1 (hybrid), switchable
dgpu_setting = 0x01
boot_sound = 1
lcd_overdrive = 1
fan_behavior = 0
fan_speed = 0
fan_table = 0
led_bytes = 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
turbo_key = 0
adaptors = 1
ac_present = yes
battery_boost = no

[accessibility]
# Sticky keys as Windows ships them: available, Shift-five-times hot key armed, feedback and
# indicator on, sticky keys themselves off.
sticky_keys = 0x1FE

[volume]
name = C:\
label = Windows
drive_letter = C:
file_system = NTFS
# The product's data folder, as its installer leaves it; the broker creates only the folders
# below it (its log folder, the boot-logo staging folder).
folders = \ProgramData\OEM

[volume]
name = S:\
label = ESP
drive_letter = S:
file_system = FAT32
# the folder the firmware takes the Customize POST logo from
folders = \EFI\OEM

[video_mode]
horizontal = 1920
vertical = 1080

[video_mode]
horizontal = 2560
vertical = 1440

[video_mode]
horizontal = 2560
vertical = 1600
refresh_rate = 240

[smbios]
major_version = 3
minor_version = 4
bios_vendor = Calvane Firmware Inc.
bios_version = V1.07
bios_date = 03/14/2024
# per-key RGB keyboard (8:0, 10:2), POST logo (13:1), one adaptor with USB PD (14:0x05),
# operation modes (15:1), USB light bar (23:2)
type172 = 8:0, 10:2, 13:1, 14:0x05, 15:1, 23:2
# keyboard-backlight hot key 0x85
type170 = 0x85:8, 0x90:7

# Software components under SWD\DRIVERENUM, in enumeration order. The agent service's driver
# package brings the second one; its class key carries the driver version.
[driver]
hardware_id = SWD\DRIVERENUM\SWComp_CorlanHotkeyFilter&4&1b0d93e2&0
driver_key = {5c4c3332-344d-483c-8739-259e934c9cc8}\0001

[driver]
hardware_id = SWD\DRIVERENUM\SWComp_CorlanNBAgentServiceDriver&4&2f1e6a3c&0
driver_key = {5c4c3332-344d-483c-8739-259e934c9cc8}\0003
driver_version = 2.1.1407.0

# HID device interfaces, in enumeration order: the touchpad, the keyboard's two interfaces (the
# boot keyboard, then the vendor command interface with 9-byte feature reports) and the
# embedded controller's vendor-defined interface (report 0xA0 with a 64-byte block).
[hid]
vendor_id = 0x3A1F
product_id = 0x0021
usage_page = 0x000D
usage = 0x0005
feature_report_length = 3

[hid]
vendor_id = 0x0D62
product_id = 0x0B9D
usage_page = 0x0001
usage = 0x0006
feature_report_length = 2

[hid]
vendor_id = 0x0D62
product_id = 0x0B9D
usage_page = 0xFF02
usage = 0x0001
feature_report_length = 9
device = keyboard

[hid]
vendor_id = 0x2E5C
product_id = 0x174B
usage_page = 0xFF05
usage = 0x0001
feature_report_length = 65
device = ec

# EC firmware 6.1 (low byte 6, high byte 1): system status in the current layout; AC plugged in,
# no battery boost, overclocking supported.
[ec]
data_version = 0x0106
ac_status = 1
battery_boost = 0
oc_capability = 1
oc_profile = 1, 0x00C8, 0x0BB8, 0x0064, 0x01F4, 0x0032, 2, 3, 1, 0x0190, 0x00FA, 0x012C
backlight_brightness = 100
backlight_timeout = 30

[keyboard]
backlight_off_30s = 0
# Windows and Menu keys both working
win_key_byte = 0x03

# The DTS audio library, copied in at start from the build (src/sim/dts.h).
[dts]
library = C:\Windows\System32\DtsApoAppWin32DLL.dll
mode = 1

# The discrete GPU, an NVIDIA part reached through NVAPI: 1.53 GHz now, P0 boosting to 2.19 GHz,
# 8 GHz memory, 37 % busy, two sensors. Its display adapter's first hardware ID is the one an
# overclock INI file names.
[gpu]
vendor = nvidia
name = NVIDIA GeForce RTX 4070 Laptop GPU
hardware_id = PCI\VEN_10DE&DEV_2820&SUBSYS_3A1F1D05&REV_A1
clock_khz = 1530000
max_clock_khz = 2190000
memory_clock_khz = 8001000
usage = 37
temperatures = 61, 58
coproc_state = 1
vbios_revision = 0x95
