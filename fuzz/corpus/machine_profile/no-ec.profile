# A gaming notebook whose embedded controller has no HID interface, with a keyboard the broker
# does not know (0x1234:0x5678, not in its keyboard table) although it offers a 9-byte command
# interface. The firmware WMI classes are present as on the default machine.

[system]
manufacturer = Calvane
model = Vexor 15 LX
family = Vexor Gaming

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
bios_vendor = Calvane Firmware Inc.
bios_version = V1.02
bios_date = 11/02/2023

[hid]
vendor_id = 0x1234
product_id = 0x5678
usage_page = 0x0001
usage = 0x0006
feature_report_length = 2

[hid]
vendor_id = 0x1234
product_id = 0x5678
usage_page = 0xFF02
usage = 0x0001
feature_report_length = 9
device = keyboard
