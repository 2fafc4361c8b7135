# The simulated unit: its requests and its state files.
vrx4_add_fuzz_targets(unit_requests unit_state)
