// The printer as a PAPPL driver: its capabilities and defaults from the printer
// tables, its vendor attributes, and the callbacks that print a job through
// rastertoZelvar.
#pragma once

#include <pappl/pappl.h>

namespace zelvarapp {

// The drivers the application offers (one: this printer).
extern pappl_pr_driver_t gDrivers[1];

bool DriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *deviceId, pappl_pr_driver_data_t *data, ipp_t **attrs,
                    void *callbackData);

// The driver for a device found by "autoadd": this printer's when the device ID
// names its maker.
const char *AutoAddCallback(const char *deviceInfo, const char *deviceUri, const char *deviceId,
                            void *callbackData);

}  // namespace zelvarapp
