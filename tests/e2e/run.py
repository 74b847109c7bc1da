"""Lists or runs the end-to-end tests: run.py --list prints one test id per
line; run.py ID [ID...] runs those tests."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))


def all_ids(suite):
    for t in suite:
        if isinstance(t, unittest.TestSuite):
            yield from all_ids(t)
        else:
            yield t.id()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.argv[1:] == ["--list"]:
        suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py", top_level_dir=here)
        for i in all_ids(suite):
            print(i)
        return 0
    suite = unittest.defaultTestLoader.loadTestsFromNames(sys.argv[1:])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
