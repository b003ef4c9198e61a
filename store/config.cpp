// The configuration store (in progress).
