// device models
