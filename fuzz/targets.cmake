# What a broken or malicious unit or file can feed the host: the unit's
# replies to every query, the firmware file, the project file.
vrx4_add_fuzz_targets(response_frames firmware_reader project_reader)
