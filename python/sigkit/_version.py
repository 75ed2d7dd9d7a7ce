"""The package's version: the project's VERSION in CMakeLists.txt (a test keeps them equal)."""

__version__ = "1.0.0"
