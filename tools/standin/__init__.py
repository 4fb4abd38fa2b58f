"""Stand-in Tessaly server for tests, demos and benchmarks (Python standard library only)."""
