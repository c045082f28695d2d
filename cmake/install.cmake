# Install rules for the driver (filter, PPD, inspector).
