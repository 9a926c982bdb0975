int Low() { return 1; }
