// Engine runner and data services (in progress).
