// What the driver reports for one PPA through DLPI, learnt by attaching the
// control stream to the PPA, asking for its information and detaching again.
#ifndef LLC2_CMD_DEVICE_INFO_H
#define LLC2_CMD_DEVICE_INFO_H

// Runs the attach, info and detach exchange for ppa on the control stream fd
// (neither opened nor closed here) and prints the four columns Type, MaxSDU,
// MinSDU and Mode of a status-table row with "%7s %6lu %6lu %4lx ".
// 0 when the columns were printed; -1 when nothing was written to standard
// output. Failures say why on standard error only while debug is above 0.
int get_device_info(int ppa, int fd);

#endif
