#!/usr/bin/env python3
"""Runs one black-box suite (a module, or one class of it) for CTest; exits 77 (skipped) when every test in it
was skipped."""
import sys
import unittest

result = unittest.TextTestRunner(verbosity=2).run(unittest.defaultTestLoader.loadTestsFromName(sys.argv[1]))
sys.exit(1 if not result.wasSuccessful() else 77 if len(result.skipped) >= result.testsRun else 0)
