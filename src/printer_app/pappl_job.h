// Printing a job: PAPPL hands the driver the job's pages line by line (its own
// rendering of JPEG and PNG, or the client's PWG or Apple raster as it streams
// in); each job runs rastertoZelvar as a child, writes it the pages as a CUPS
// raster stream, and sends what it writes to the printer.
#pragma once

#include <pappl/pappl.h>

namespace zelvarapp {

// The filter program: $ZELVAR_FILTER_PATH, or where the driver installs it.
const char *FilterPath();

// The native format, a printer job made elsewhere, is sent as it is.
constexpr const char *kNativeFormat = "application/vnd.zelvar-pjl";

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
               unsigned page);
bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
               const unsigned char *line);
bool EndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool EndJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool PrintNativeFile(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

}  // namespace zelvarapp
