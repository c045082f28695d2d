// Parsing a printer job as the filter writes it (placeholder until the inspector lands).
#pragma once
