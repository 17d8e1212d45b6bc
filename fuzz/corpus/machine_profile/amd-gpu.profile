# A Vexor notebook with an AMD discrete GPU (reached through ADLX) and no NVIDIA GPU: the
# default machine's firmware, a GPU at 2.1 GHz of a 500-2600 MHz range, 42.9 % busy, 30 W against
# a 3 W minimum, 64.5 °C.

[system]
manufacturer = Calvane
model = Vexor 16 AX
family = Vexor Gaming

[volume]
name = C:\
label = Windows
drive_letter = C:
file_system = NTFS
folders = \ProgramData\OEM

[gpu]
vendor = amd
name = AMD Radeon RX 7600S
hardware_id = PCI\VEN_1002&DEV_7480&SUBSYS_3A1F1D05&REV_C1
clock_mhz = 2100
clock_range = 500, 2600
usage = 42.9
usage_range = 0, 100
power = 30.5
power_range = 3, 100
temperature = 64.5
