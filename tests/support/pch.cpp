// Compiled only to make the precompiled GoogleTest header that the tests share.
