// The object that carries the test targets' precompiled header (TestPch.cmake); it defines nothing.
