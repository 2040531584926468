// Placeholder: this component is being written.
