// Prints the configuration on standard output: without -v in the configuration
// file syntax, with -v as a listing for people that also shows resolved targets.
#pragma once

#include "config/registry.h"

void config_export();

// One record, in the form that -v selects.
void gateway_export(const Gateway& gateway);
void host_export(const Host& host);
void hostgroup_export(const HostGroup& group);
