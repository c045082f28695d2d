#include "job_parser.h"
