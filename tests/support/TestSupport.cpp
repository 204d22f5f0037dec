// Test helpers land here.
