#pragma once
// The HID platform layer of Linux: libudev and /dev/hidraw*.
//
// - Scan: libudev enumeration of the subsystem "hidraw".  devicePath is the
//   node (/dev/hidrawN), deviceInstance the sysfs path of the hidraw device.
//   Vendor, product and version numbers and the product and serial strings
//   come from the parent USB device (idVendor, idProduct, bcdDevice, product,
//   serial); for other buses from the HID device's HID_ID, HID_NAME and
//   HID_UNIQ.  The kernel reads the string descriptors itself, so there is no
//   language list to compare the serial number with.
// - Open: read-write for the main handle; a device this user may not open is
//   still listed through a query-only handle (no file descriptor: its
//   attributes and strings come from sysfs), so that it can be named.
// - Capabilities: HIDIOCGRDESC (or the sysfs report_descriptor) gives the
//   longest input report and whether reports are numbered.  hidraw hands
//   unnumbered reports over without an ID byte; the layer puts report ID 0 in
//   front so that every report reads "ID, data".
// - Feature reports: HIDIOCSFEATURE.
// - Reads: the read handle is non-blocking; Read() sleeps in poll() on the node
//   and an eventfd that CancelRead() signals.
// - Notices: a udev monitor (netlink "udev", subsystem "hidraw") watched by a
//   QSocketNotifier on the user-interface thread; the uevents of one plug
//   (several nodes, add and remove) within kNoticeDelayMs make one notice.
// - No equivalent: the input-buffer count (the kernel keeps 64 reports per
//   open node) and the write handle, which the program never uses.

#include "link/HidPlatform.h"

namespace orvex {

inline constexpr int kNoticeDelayMs = 50;

std::shared_ptr<IHidPlatform> MakeLinuxHidPlatform();

} // namespace orvex
