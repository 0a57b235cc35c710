# SPDX-License-Identifier: GPL-3.0-or-later
# The planning step of a conversion, as a table of requests and inputs.
tarvik_add_test(plan_test plan_test.cpp LIBS tarvik_encoder)
